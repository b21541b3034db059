#pragma once

namespace Harbend {

// Writes each line through First, then Second; exposes both writers' own operations.
template <class First, class Second>
class LogWriteComposite : public First, public Second {
public:
    void write(const char* line)
    {
        First::write(line);
        Second::write(line);
    }
};

} // namespace Harbend
