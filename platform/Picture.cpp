#include "Picture.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

namespace platform {

namespace {

// No picture the program shows comes near this; a header that claims more is refused
// before anything is allocated.
constexpr qint64 kMaxPixels = 16LL * 1024 * 1024;

// Of an icon's images, the one shown at the standard icon size.
void ChooseIconImage(QImageReader &reader)
{
    if (reader.format() != "ico")
        return;
    const int count = reader.imageCount();
    for (int i = 0; i < count; ++i) {
        if (!reader.jumpToImage(i))
            break;
        if (reader.size() == QSize(32, 32))
            return;
    }
    reader.jumpToImage(0);
}

QString Native(const std::string &path)
{
    return QString::fromStdString(path);
}

} // namespace

Picture::Picture() = default;

Picture::Picture(std::shared_ptr<const QPixmap> pixmap) : pixmap_(std::move(pixmap)) {}

bool Picture::IsEmpty() const
{
    return !pixmap_ || pixmap_->isNull();
}

int Picture::WidthPixels() const
{
    return pixmap_ ? pixmap_->width() : 0;
}

int Picture::HeightPixels() const
{
    return pixmap_ ? pixmap_->height() : 0;
}

PictureResult LoadPicture(const std::string &path, int maxWidth, int maxHeight)
{
    PictureResult result;
    const QString file = Native(path);
    const QFileInfo info(file);
    if (path.empty()) {
        result.error = "no file was named";
        return result;
    }
    if (!info.exists()) {
        result.error = "the file does not exist";
        return result;
    }
    if (!info.isFile()) {
        result.error = "it is a folder, not a file";
        return result;
    }
    if (!info.isReadable()) {
        result.error = "the file cannot be read (no permission)";
        return result;
    }
    if (info.size() == 0) {
        result.error = "the file is empty";
        return result;
    }
    QImageReader reader(file);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format != "bmp" && format != "ico") {
        result.error = format.isEmpty() ? "it is not a bitmap or icon file"
                                        : "it is a " + format.toUpper().toStdString() +
                                              " file, not a bitmap or icon file";
        return result;
    }
    ChooseIconImage(reader);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        result.error = "its header is damaged or it holds no image";
        return result;
    }
    if (static_cast<qint64>(size.width()) * size.height() > kMaxPixels ||
        (maxWidth > 0 && size.width() > maxWidth) || (maxHeight > 0 && size.height() > maxHeight)) {
        result.error = "the picture is " + std::to_string(size.width()) + " x " +
                       std::to_string(size.height()) + " pixels, larger than the screen";
        return result;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        result.error = "the picture cannot be decoded (" + reader.errorString().toStdString() + ")";
        return result;
    }
    result.picture = Picture(std::make_shared<const QPixmap>(QPixmap::fromImage(image)));
    result.ok = true;
    return result;
}

Picture BuiltInPicture(const std::string &resource)
{
    QImageReader reader(QString::fromStdString(resource));
    ChooseIconImage(reader);
    const QImage image = reader.read();
    if (image.isNull())
        return Picture();
    return Picture(std::make_shared<const QPixmap>(QPixmap::fromImage(image)));
}

} // namespace platform
