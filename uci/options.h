// The UCI options: the "uci" listing and the "setoption" command.
#pragma once

#include <sstream>
#include <string>


void printUciReply();
void setoptionCommand(std::istringstream& words);

// Reads a decimal integer the way the standard conversion does (leading
// blanks and a sign allowed, trailing text ignored). False when no digit
// starts the text.
bool readInteger(const std::string& text, long& value);
