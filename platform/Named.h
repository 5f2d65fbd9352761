// What a window's stored definition names: its controls, timers and wave-audio controls.
// Each belongs to its window for the window's life and is never copied.
#pragma once

#include <string>
#include <utility>

namespace platform {

class Named
{
public:
    Named(const Named &) = delete;
    Named &operator=(const Named &) = delete;
    const std::string &Name() const { return name_; }

protected:
    explicit Named(std::string name) : name_(std::move(name)) {}
    ~Named() = default;

private:
    std::string name_;
};

} // namespace platform
