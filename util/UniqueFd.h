#pragma once

#include <unistd.h>
#include <utility>

// Owns one POSIX file descriptor and closes it on every path. Release() hands it back for a close
// whose result matters (a write is only complete when close() has succeeded).
class TUniqueFd
{
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    ~TUniqueFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept
    {
        TUniqueFd(std::move(other)).Swap(*this);
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const noexcept { return FFd; }
    bool IsOpen() const noexcept { return FFd >= 0; }
    int Release() noexcept { return std::exchange(FFd, -1); }
    void Swap(TUniqueFd& other) noexcept { std::swap(FFd, other.FFd); }

private:
    int FFd = -1;
};
