#pragma once

#include <memory>
#include <optional>
#include <string>

namespace sim {

// The link `comN` in the program's port alias directory, pointing at the simulator's
// terminal, for as long as this object lives.
class PortAlias {
public:
    // Creates `dir` if missing and the link for port `port` in it. A dangling alias is
    // replaced, and put back when this goes unless a simulator left it; one that leads
    // somewhere that exists is somebody else's and is left alone. On failure returns null and
    // says why in `error`.
    static std::unique_ptr<PortAlias> create(const std::string& dir, int port,
                                             const std::string& target, std::string& error);

    PortAlias(const PortAlias&) = delete;
    PortAlias& operator=(const PortAlias&) = delete;
    ~PortAlias() { remove(); }

    // Removes the link, or puts back the one it replaced, if it still points at our
    // terminal; later calls do nothing.
    void remove();

    const std::string& path() const { return path_; }
    bool replacedDangling() const { return replacedDangling_; }

private:
    PortAlias(std::string path, std::string target, bool replacedDangling,
              std::optional<std::string> restore)
        : path_(std::move(path)),
          target_(std::move(target)),
          replacedDangling_(replacedDangling),
          restore_(std::move(restore)) {}

    std::string path_;
    std::string target_;
    bool replacedDangling_;
    std::optional<std::string> restore_;
    bool removed_ = false;
};

// Where an alias should lead so that it dies with the process holding `fd`: the process's own
// entry for that descriptor, which exists only while the process does.
std::string aliasTargetForDescriptor(int fd);

}  // namespace sim
