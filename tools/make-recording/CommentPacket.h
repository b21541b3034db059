#pragma once

#include <map>
#include <string>
#include <vector>

// A comment header in the Vorbis-comment layout (vendor, count, "KEY=value"
// entries, all lengths 32-bit little-endian), after an optional magic.
std::vector<unsigned char> makeCommentPacket(const std::string& magic, const std::string& vendor,
                                             const std::map<std::string, std::string>& comments);

void appendLe32(std::vector<unsigned char>& out, unsigned value);
void appendLe16(std::vector<unsigned char>& out, unsigned value);
