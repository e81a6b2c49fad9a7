#pragma once

#include <array>

namespace app {

// Where the 21 click areas lie on the remote picture, hotspot 1 to 21. The picture is drawn
// from the same numbers, so each key sits centred in its area.
struct KeyArea {
    int left;
    int top;
};

inline constexpr int kKeyAreaSide = 68;

inline constexpr std::array<KeyArea, 21> kKeyAreas = {{
    {6, 18},  {85, 18},  {164, 18},   //
    {4, 89},  {85, 89},  {164, 89},   //
    {4, 161}, {85, 161}, {164, 161},  //
    {4, 233}, {85, 233}, {164, 233},  //
    {4, 304}, {85, 304}, {164, 304},  //
    {4, 376}, {85, 376}, {164, 376},  //
    {6, 448}, {85, 448}, {164, 448},  //
}};

}  // namespace app
