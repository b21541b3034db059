#pragma once

#include <string>

// A JSON string literal for UTF-8 text.
std::string jsonString(const std::string& text);
