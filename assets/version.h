// The program's version, read by the resource script.
#pragma once

#define LARKSPOOL_VERSION_BINARY 2, 1, 0, 19
#define LARKSPOOL_VERSION_TEXT "2.01.0019"
