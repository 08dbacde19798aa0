// The viewer's version text: two digits each of major, minor, release and
// build number. It names the skin and background files and the version label.
#pragma once
extern const char gVersionText[];
