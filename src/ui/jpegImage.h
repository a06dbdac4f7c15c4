#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a JPEG file's bytes with libjpeg. A malformed or unsupported image raises Exception with
// libjpeg's own description; it never ends the process (libjpeg's default error handling would).
QImage DecodeJpeg(const QByteArray& data);
