// Port names aimed at files, typed into the port box, reached through COM aliases or met by
// the search: nothing but a terminal device is ever opened, and nothing on disk changes or
// appears. inotify sees every open, so "not opened" is checked, not assumed.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "form_fixture.h"
#include "serial/fd.h"

namespace fs = std::filesystem;

namespace {

// Everything that happens to the watched directories and the entries in them.
class DirectoryWatch {
public:
    explicit DirectoryWatch(const std::vector<std::string>& dirs)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& dir : dirs) {
            ::inotify_add_watch(fd_.get(), dir.c_str(), IN_ALL_EVENTS);
        }
    }

    bool ok() const { return bool(fd_); }

    std::vector<std::string> events() {
        std::vector<std::string> seen;
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                std::ostringstream text;
                text << (e->len > 0 ? e->name : "(dir)") << " mask 0x" << std::hex << e->mask;
                seen.push_back(text.str());
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        return seen;
    }

private:
    serial::Fd fd_;
};

// Type, size, times and content of everything under `root`, links not followed.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        std::ostringstream text;
        text << st.st_mode << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << '.'
             << st.st_mtim.tv_nsec << ' ' << st.st_ctim.tv_sec << '.' << st.st_ctim.tv_nsec;
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(entry.path(), std::ios::binary);
            text << ' ' << in.rdbuf();
        } else if (S_ISLNK(st.st_mode)) {
            text << " -> " << fs::read_symlink(entry.path()).string();
        }
        entries[entry.path().string()] = text.str();
    }
    return entries;
}

class WorkingDirectory {
public:
    explicit WorkingDirectory(const fs::path& dir) : previous_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~WorkingDirectory() { fs::current_path(previous_); }

private:
    fs::path previous_;
};

}  // namespace

class FilePortTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        root = aliases->root();
        files = root + "/files";
        fs::create_directories(files + "/dir");
        fs::create_directories(root + "/work");
        std::ofstream(files + "/notes.txt") << "keep me\n";
        std::ofstream(files + "/empty");
        std::ofstream(files + "/dir/inner.txt") << "inner";
        std::ofstream(files + "/with space \xc3\xbc.txt") << "spaced";
        std::ofstream(files + "/COM6") << "named like a port";
        ::mkfifo((files + "/fifo").c_str(), 0600);
        fs::create_symlink("notes.txt", files + "/link-to-notes");
        fs::create_symlink("link-to-notes", files + "/link-chain");
        fs::create_symlink(files + "/notes.txt", files + "/abs-link");
        fs::create_symlink("nothing-here", files + "/dangling");
        fs::create_symlink(files + "/dir", files + "/dir-link");
    }

    // Tries each name with the switch: every one must fail as a port that does not open.
    void expectOpenErrorFor(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            SCOPED_TRACE("port box '" + name + "'");
            edit("EditCOMport")->setText(QString::fromStdString(name));
            form->BitBtnRS232Click();
            EXPECT_FALSE(form->session().link().ComOpened());
            EXPECT_TRUE(form->session().link().hComm().isInvalid());
            EXPECT_EQ(logLines().last(), QStringLiteral("RS232 Open Error. "));
            EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));
        }
    }

    std::string root;
    std::string files;
};

TEST_F(FilePortTest, NamesAimedAtFilesOpenNothingAndChangeNothing) {
    aliases->mapPort(6, files + "/notes.txt");
    aliases->mapPort(7, files + "/fifo");
    aliases->mapPort(8, files + "/dir");
    aliases->mapPort(9, "../../files/link-chain");  // relative to the alias directory
    aliases->mapPort(10, aliases->dir() + "/com10");
    aliases->mapPort(11, files + "/dangling");
    aliases->mapPort(12, files + "/with space \xc3\xbc.txt");
    form->show();
    const auto before = snapshot(root);

    WorkingDirectory cwd(root + "/work");
    DirectoryWatch watch({root, files, files + "/dir", root + "/work", aliases->dir()});
    ASSERT_TRUE(watch.ok());
    expectOpenErrorFor({
        // Aliases to a file, a FIFO, a directory, a chain of links, a loop, nothing, a spaced
        // non-ASCII name.
        "COM6",
        "com7",
        "COM8",
        "COM9",
        "COM10",
        "COM11",
        "COM12",
        // Relative to the working directory.
        "../files/notes.txt",
        "./../files/fifo",
        "../files/dir/",
        "../files/dir/../notes.txt",
        "../files/link-chain",
        "../files/dir-link/inner.txt",
        "../files/dangling",
        "../files/new-file",
        "../files/with space \xc3\xbc.txt",
        "../files/COM6",
        // Absolute.
        files + "/abs-link",
        files + "/empty",
        files + "/notes.txt/",
        files + "/dir-link",
        files + "/new file \xc3\xbc",
        files + "/" + std::string(300, 'a'),
        files + std::string(2500, '/') + "notes.txt" + std::string(2500, '/'),
        // Bare names go under /dev.
        "notes.txt",
    });
    EXPECT_EQ(watch.events(), std::vector<std::string>{});
    EXPECT_EQ(snapshot(root), before);
    EXPECT_FALSE(fs::exists("/dev/notes.txt"));
    EXPECT_TRUE(errors.isEmpty());
    // The watch does see an open when there is one.
    std::ifstream(files + "/notes.txt").get();
    EXPECT_FALSE(watch.events().empty());
}

TEST_F(FilePortTest, SearchOverPortsAliasedToFilesOpensNothing) {
    const std::string targets[] = {"notes.txt", "fifo",       "dir",  "abs-link",
                                   "dangling",  "link-chain", "COM6", "empty"};
    int port = 1;
    for (const std::string& target : targets) {
        aliases->mapPort(port++, files + "/" + target);
    }
    form->show();
    const auto before = snapshot(root);
    DirectoryWatch watch({root, files, files + "/dir", aliases->dir()});
    ASSERT_TRUE(watch.ok());

    startSearchByHand();
    searchTicks(20);
    EXPECT_EQ(logLines(), QStringList{"Device not found . "});
    EXPECT_EQ(watch.events(), std::vector<std::string>{});
    EXPECT_EQ(snapshot(root), before);
    EXPECT_TRUE(errors.isEmpty());
}
