#pragma once

#include <string>

/// The user's decimal separator (Regional settings), "." when the system gives none.
std::string win32DecimalSeparator();
