#include "Picture.h"

#include "Form.h"
#include "Toolkit.h"
#include "Twips.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

#include <cstdint>

// The pictures of the stored window definitions are compiled into this library, which a
// linker would leave out unless something refers to them. (The toolkit's macro declares a
// function of the global namespace, so it is called from here.)
static bool RegisterFormPictures()
{
    Q_INIT_RESOURCE(pictures);
    return true;
}

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

std::uint32_t Le(const QByteArray &bytes, int at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// An icon file's header with a count of no images, which the toolkit does not take for an
// icon at all.
bool IsEmptyIcon(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.read(6);
    return bytes.size() == 6 && Le(bytes, 0, 2) == 0 &&
           (Le(bytes, 2, 2) == 1 || Le(bytes, 2, 2) == 2) && Le(bytes, 4, 2) == 0;
}

// What a bitmap file's own header says about its pixels, read before the toolkit decodes
// anything: the toolkit shows a bitmap cut short in its pixels with the missing rows black
// and without a word, and gives no size at all for one whose header claims a huge picture.
struct BitmapHeader
{
    bool read = false; // the header is there and makes sense
    qint64 width = 0;
    qint64 height = 0;
    qint64 needed = 0; // the bytes the file must hold for its pixels; 0 when compressed
};

BitmapHeader ReadBitmapHeader(const QString &file)
{
    BitmapHeader header;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return header;
    const QByteArray bytes = in.read(30);
    if (bytes.size() < 26 || !bytes.startsWith("BM"))
        return header;
    const qint64 offset = Le(bytes, 10, 4);
    const std::uint32_t infoSize = Le(bytes, 14, 4);
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    if (infoSize == 12) { // the oldest form: 16-bit sizes, never compressed
        header.width = Le(bytes, 18, 2);
        header.height = Le(bytes, 20, 2);
        bits = Le(bytes, 24, 2);
    } else if (infoSize >= 40 && bytes.size() >= 30) {
        header.width = static_cast<std::int32_t>(Le(bytes, 18, 4));
        header.height = static_cast<std::int32_t>(Le(bytes, 22, 4));
        bits = Le(bytes, 28, 2);
        const QByteArray more = in.read(4);
        if (more.size() < 4)
            return header;
        compression = Le(more, 0, 4);
    } else {
        return header;
    }
    header.height = header.height < 0 ? -header.height : header.height; // top-down rows
    if (header.width <= 0 || header.height <= 0 || bits == 0 || bits > 32)
        return header;
    header.read = true;
    // Uncompressed rows (plain or with bit fields) have a size known from the header alone.
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (uncompressed && header.width * header.height <= kMaxPixels) {
        const qint64 rowBytes = (header.width * bits + 31) / 32 * 4;
        header.needed = offset + rowBytes * header.height;
    }
    return header;
}

} // namespace

Picture::Picture() = default;

Picture::Picture(std::shared_ptr<const detail::PictureData> pixels) : pixels_(std::move(pixels)) {}

const QPixmap *PixmapOf(const Picture &picture)
{
    return picture.Pixels() ? &picture.Pixels()->pixmap : nullptr;
}

Picture PictureOf(const QPixmap &pixmap)
{
    return Picture(std::make_shared<const detail::PictureData>(detail::PictureData{pixmap}));
}

bool Picture::IsEmpty() const
{
    return !pixels_ || pixels_->pixmap.isNull();
}

int Picture::WidthPixels() const
{
    return pixels_ ? pixels_->pixmap.width() : 0;
}

int Picture::HeightPixels() const
{
    return pixels_ ? pixels_->pixmap.height() : 0;
}

namespace {

// Why the file cannot be a picture before it is opened; empty when it can.
std::string FileProblem(const std::string &path, const QFileInfo &info)
{
    if (path.empty())
        return "no file was named";
    if (!info.exists())
        return "the file does not exist";
    if (!info.isFile())
        return "it is a folder, not a file";
    if (!info.isReadable())
        return "the file cannot be read (no permission)";
    if (info.size() == 0)
        return "the file is empty";
    return {};
}

// Why a file of the format the reader found is not taken; empty for a bitmap or an icon.
std::string FormatProblem(const QByteArray &format, const QString &file)
{
    if (format.isEmpty() && IsEmptyIcon(file))
        return "it is an icon file that holds no image";
    if (format.isEmpty())
        return "it is not a bitmap or icon file";
    if (format != "bmp" && format != "ico")
        return "it is a " + format.toUpper().toStdString() + " file, not a bitmap or icon file";
    return {};
}

// A picture larger than the limit (0: none) or than any the program shows.
std::string SizeProblem(qint64 width, qint64 height, int maxWidth, int maxHeight)
{
    if (width * height <= kMaxPixels && (maxWidth <= 0 || width <= maxWidth) &&
        (maxHeight <= 0 || height <= maxHeight))
        return {};
    return "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, larger than the screen";
}

// What a bitmap's own header tells against it; empty when nothing does.
std::string BitmapProblem(const QFileInfo &info, int maxWidth, int maxHeight)
{
    const BitmapHeader header = ReadBitmapHeader(info.filePath());
    if (!header.read)
        return {};
    if (std::string tooLarge = SizeProblem(header.width, header.height, maxWidth, maxHeight);
        !tooLarge.empty())
        return tooLarge;
    if (header.needed > info.size())
        return "the file is cut short (it holds " + std::to_string(info.size()) + " of the " +
               std::to_string(header.needed) + " bytes its picture needs)";
    return {};
}

// Why the reader's picture cannot be shown, checked before it is decoded; empty when it can.
std::string HeaderProblem(QImageReader &reader, const QFileInfo &info, int maxWidth, int maxHeight)
{
    const QByteArray format = reader.format();
    if (std::string problem = FormatProblem(format, info.filePath()); !problem.empty())
        return problem;
    if (format == "bmp")
        if (std::string problem = BitmapProblem(info, maxWidth, maxHeight); !problem.empty())
            return problem;
    ChooseIconImage(reader);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return "its header is damaged or it holds no image";
    return SizeProblem(size.width(), size.height(), maxWidth, maxHeight);
}

} // namespace

PictureResult LoadPicture(const std::string &path, int maxWidth, int maxHeight)
{
    PictureResult result;
    const QString file = Native(path);
    const QFileInfo info(file);
    result.error = FileProblem(path, info);
    if (!result.error.empty())
        return result;
    QImageReader reader(file);
    reader.setDecideFormatFromContent(true);
    result.error = HeaderProblem(reader, info, maxWidth, maxHeight);
    if (!result.error.empty())
        return result;
    const QImage image = reader.read();
    if (image.isNull()) {
        result.error = "the picture cannot be decoded (" + reader.errorString().toStdString() + ")";
        return result;
    }
    result.picture = PictureOf(QPixmap::fromImage(image));
    result.ok = true;
    return result;
}

Picture BuiltInPicture(const std::string &resource)
{
    static const bool registered = RegisterFormPictures();
    (void)registered;
    QImageReader reader(QString::fromStdString(resource));
    ChooseIconImage(reader);
    const QImage image = reader.read();
    if (image.isNull())
        return Picture();
    return PictureOf(QPixmap::fromImage(image));
}

PictureResult LoadPicture(const std::string &path, const Form &window)
{
    return LoadPicture(path, PixelsOf(window.ScreenWidth()), PixelsOf(window.ScreenHeight()));
}

} // namespace platform
