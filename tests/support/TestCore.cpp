// The shared library the test programs link: its code is the viewer's
// archives taken whole (tests/CMakeLists.txt); this file only gives the
// library a source of its own.
