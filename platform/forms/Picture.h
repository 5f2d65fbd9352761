// Pictures that image controls show, and loading them from bitmap and icon files.
#pragma once

#include <memory>
#include <string>

namespace platform {

class Form;
namespace detail {
struct PictureData; // the toolkit's pixels, known only to the platform layer's own sources
}

class Picture
{
public:
    Picture();
    explicit Picture(std::shared_ptr<const detail::PictureData> pixels);
    bool IsEmpty() const;
    int WidthPixels() const;
    int HeightPixels() const;
    // None for a picture that was never given one.
    const detail::PictureData *Pixels() const { return pixels_.get(); }

private:
    std::shared_ptr<const detail::PictureData> pixels_;
};

struct PictureResult
{
    bool ok = false;
    Picture picture;
    std::string error; // why the file cannot be shown, in plain words
};

// Loads a bitmap (.bmp) or icon (.ico) file. The file's header is checked before anything
// is decoded, so a file that claims a huge size is refused without allocating it: a picture
// wider or higher than maxWidth x maxHeight pixels is refused (0 means no limit). Of an icon
// with several images, the 32 x 32 one is taken, as icons are shown at that size; otherwise
// the first.
PictureResult LoadPicture(const std::string &path, int maxWidth, int maxHeight);
// The same with the limit of a picture shown in the window: the size of the screen it stands on.
PictureResult LoadPicture(const std::string &path, const Form &window);
// Loads a picture built into the program (a resource path such as ":/forms/Spider.ico").
Picture BuiltInPicture(const std::string &resource);

} // namespace platform
