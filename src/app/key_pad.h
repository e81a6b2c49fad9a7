#pragma once

#include <QObject>
#include <array>

#include "remote/key_table.h"

namespace app {

class KeyHotspot;

// The remote's keys as one stop for the keyboard. Tab lands on the key last used; the arrows
// move across the keys' three columns and seven rows, Home and End go to the first and last.
// Only that key is in the tab chain, so Tab from it leaves the remote.
class KeyPad : public QObject {
public:
    KeyPad(const std::array<KeyHotspot*, remote::kHotspotCount>& keys, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeStop(const KeyHotspot* stop);

    std::array<KeyHotspot*, remote::kHotspotCount> keys_;
};

}  // namespace app
