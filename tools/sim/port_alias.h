#pragma once

#include <memory>
#include <string>

namespace sim {

// The link `comN` in the program's port alias directory, pointing at the simulator's
// terminal, for as long as this object lives.
class PortAlias {
public:
    // Creates `dir` if missing and the link for port `port` in it. An alias left dangling by
    // a simulator that was killed is replaced; one that leads somewhere that exists is
    // somebody else's and is left alone. On failure returns null and says why in `error`.
    static std::unique_ptr<PortAlias> create(const std::string& dir, int port,
                                             const std::string& target, std::string& error);

    PortAlias(const PortAlias&) = delete;
    PortAlias& operator=(const PortAlias&) = delete;
    ~PortAlias() { remove(); }

    // Removes the link if it still points at our terminal; later calls do nothing.
    void remove();

    const std::string& path() const { return path_; }
    bool replacedDangling() const { return replacedDangling_; }

private:
    PortAlias(std::string path, std::string target, bool replacedDangling)
        : path_(std::move(path)), target_(std::move(target)), replacedDangling_(replacedDangling) {}

    std::string path_;
    std::string target_;
    bool replacedDangling_;
    bool removed_ = false;
};

}  // namespace sim
