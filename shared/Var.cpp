#include "Var.h"

#include "platform/Platform.h"

namespace Var {

void Reset()
{
    Speed = 0;
    MoveType = 0;
    PictureFile.reset();
    ToneRequest = 0;
    Paused = 0;
    PassCount = 0;
    ToneFile.clear();
    ToneFiles = {};
}

} // namespace Var

std::int32_t FindTonePrefix()
{
    const auto at = Var::ToneFile.find('_');
    return at == std::string::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

void BuildTonePair(std::int32_t underscore, const std::string &fallbackLeft,
                   const std::string &fallbackRight)
{
    if (underscore <= 0) {
        Var::ToneFiles[0] = platform::InProgramFolder(fallbackLeft);
        Var::ToneFiles[1] = platform::InProgramFolder(fallbackRight);
        return;
    }
    const std::string prefix = Var::ToneFile.substr(0, static_cast<std::size_t>(underscore));
    Var::ToneFiles[0] = prefix + "l.wav";
    Var::ToneFiles[1] = prefix + "r.wav";
}

std::int32_t DeriveTonePair(const std::string &fallbackLeft, const std::string &fallbackRight)
{
    const std::int32_t underscore = FindTonePrefix();
    BuildTonePair(underscore, fallbackLeft, fallbackRight);
    return underscore;
}
