// The shared library the test programs link: its code is the viewer's
// archives taken whole (tests/CMakeLists.txt), with the tests' one module
// reset (ModuleReset.cpp) beside them; this file only gives the library a
// source of its own.
