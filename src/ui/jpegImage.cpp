#include "ui/jpegImage.h"

#include "core/exceptions.h"
#include "core/texts.h"

#include <csetjmp>
#include <jpeglib.h>

namespace {

// Images larger than this are refused before anything is allocated for them.
constexpr JDIMENSION MaxSide = 8192;
constexpr quint64 MaxPixels = quint64(32) * 1024 * 1024;
// A file may repeat its scans without end (libjpeg only warns about that), and every scan is a pass over
// the whole image: a file of a megabyte could keep the decoder busy for minutes. Real files have a dozen.
constexpr int MaxScans = 500;

struct TErrorManager
{
    jpeg_error_mgr Public; // first, so libjpeg's pointer to it is a pointer to the whole
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    bool TooManyScans;
};

extern "C" void OnJpegError(j_common_ptr info)
{
    auto* errors = reinterpret_cast<TErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

extern "C" void OnJpegMessage(j_common_ptr, int)
{
    // Warnings about recoverable damage are not shown; the decoder carries on.
}

extern "C" void OnJpegProgress(j_common_ptr info)
{
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MaxScans) {
        auto* errors = reinterpret_cast<TErrorManager*>(info->err);
        errors->TooManyScans = true;
        std::longjmp(errors->Jump, 1);
    }
}

// Holds no object with a destructor between setjmp and the calls that may jump back to it: everything
// that lives across the jump is reached through pointers owned by the caller.
bool Decode(jpeg_decompress_struct* info, TErrorManager* errors, const QByteArray* data, QImage* image)
{
    info->err = jpeg_std_error(&errors->Public);
    errors->Public.error_exit = OnJpegError;
    errors->Public.emit_message = OnJpegMessage;
    errors->Message[0] = '\0';
    errors->TooManyScans = false;
    errors->Progress.progress_monitor = OnJpegProgress;
    if (setjmp(errors->Jump)) {
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_create_decompress(info);
    info->progress = &errors->Progress;
    jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(data->constData()),
                 static_cast<unsigned long>(data->size()));
    jpeg_read_header(info, TRUE);
    if (info->image_width == 0 || info->image_height == 0 || info->image_width > MaxSide ||
        info->image_height > MaxSide || quint64(info->image_width) * info->image_height > MaxPixels) {
        jpeg_destroy_decompress(info);
        errors->Message[0] = '\0'; // too large: the caller has its own text for that
        return false;
    }
    info->out_color_space = JCS_RGB;
    jpeg_start_decompress(info);
    *image = QImage(int(info->output_width), int(info->output_height), QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(info);
        errors->Message[0] = '\0';
        return false;
    }
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = image->scanLine(int(info->output_scanline));
        if (jpeg_read_scanlines(info, &row, 1) != 1) {
            jpeg_destroy_decompress(info);
            return false;
        }
    }
    jpeg_finish_decompress(info);
    jpeg_destroy_decompress(info);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data)
{
    jpeg_decompress_struct info{};
    TErrorManager errors{};
    QImage image;
    if (!Decode(&info, &errors, &data, &image)) {
        if (errors.TooManyScans)
            throw Exception(Res::Str(Res::JpegTooManyScans));
        if (errors.Message[0] == '\0')
            throw Exception(Res::Str(Res::JpegTooLarge));
        throw Exception(Res::Str(Res::JpegError).arg(QString::fromLocal8Bit(errors.Message)));
    }
    return image;
}
