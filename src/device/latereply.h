#pragma once

#include <algorithm>

// A device answers each frame once, but not always within the wait. When a frame's reply has not
// come within its wait, the next frame goes out only once the line has been quiet this long: a
// reply in that time is the late reply of the frame before, never the next frame's answer. As
// long as the wait itself, within 0.1 to 2 s.
constexpr int quietAfterNoReplyMs(int waitMs) { return std::clamp(waitMs, 100, 2000); }
