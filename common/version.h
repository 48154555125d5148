#pragma once

// The program's version text, as shown by --version and in the window title.
#define TESSAVO_VERSION "Tessavo 1.08 beta #10213"
