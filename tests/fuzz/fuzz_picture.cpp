// Feeds arbitrary bytes to the picture loader as a bitmap file and as an icon file, with the
// limits the windows use on a 1920 x 1080 screen. Whatever the bytes, the loader must return:
// a picture within the limits, or a reason in words.
#include "FuzzInput.h"
#include "platform/forms/Picture.h"

#include <QGuiApplication>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1080;

std::string g_folder;

void Check(const std::string &path)
{
    const platform::PictureResult result = platform::LoadPicture(path, kMaxWidth, kMaxHeight);
    if (result.ok) {
        const int width = result.picture.WidthPixels();
        const int height = result.picture.HeightPixels();
        // A picture that was let through is one the stimulation window can show.
        if (result.picture.IsEmpty() || width <= 0 || height <= 0 || width > kMaxWidth ||
            height > kMaxHeight)
            __builtin_trap();
    } else if (result.error.empty()) {
        // A refusal always says why.
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_LOGGING_RULES", "qt.*=false", 1);
    static int argc = 1;
    static char name[] = "fuzz_picture";
    static char *argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    g_folder = fuzzinput::ScratchFolder("fuzz_picture");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The same bytes under both names: the loader goes by content, the name is only a hint.
    for (const char *name : {"/input.bmp", "/input.ico"}) {
        const std::string path = g_folder + name;
        fuzzinput::WriteInput(path, data, size);
        Check(path);
        std::remove(path.c_str());
    }
    return 0;
}
