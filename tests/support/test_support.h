// Helpers shared by the tests: temporary folders, whole-file I/O and running
// the built programs with arguments and standard input.
#pragma once
