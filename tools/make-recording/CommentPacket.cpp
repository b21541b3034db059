#include "CommentPacket.h"

void appendLe32(std::vector<unsigned char>& out, unsigned value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void appendLe16(std::vector<unsigned char>& out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

std::vector<unsigned char> makeCommentPacket(const std::string& magic, const std::string& vendor,
                                             const std::map<std::string, std::string>& comments)
{
    std::vector<unsigned char> out(magic.begin(), magic.end());
    appendLe32(out, unsigned(vendor.size()));
    out.insert(out.end(), vendor.begin(), vendor.end());
    appendLe32(out, unsigned(comments.size()));
    for (const auto& entry : comments) {
        const std::string text = entry.first + "=" + entry.second;
        appendLe32(out, unsigned(text.size()));
        out.insert(out.end(), text.begin(), text.end());
    }
    return out;
}
