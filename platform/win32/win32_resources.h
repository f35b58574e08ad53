#pragma once

// Resource identifiers shared by the programs' .rc files and the code that loads them.
// Plain macros: windres reads this file too.

// The active icon has the lowest identifier, so the shell shows it as the program file's icon.
#define IDI_PAVRO_ACTIVE 101
#define IDI_PAVRO_INACTIVE 102
