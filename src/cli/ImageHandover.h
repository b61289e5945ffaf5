#pragma once
// The firmware image as the parent of a several-boards download hands it to
// each board's process, on the child's standard input: every board gets the
// very bytes the parent read and converted once, and no board opens the file.
//
// Encoding: one line of JSON with the image's fields, then the image's bytes.
//   {"source":"/home/u/blink.hex","size":137,"crc32":"4e1f2a3b","linear":false,...}\n<137 bytes>
// "source" names the file the image came from (for messages), "size" and
// "crc32" let the child tell a whole image from one cut short; "linear", "origin",
// "lowest", "highest" and "overlaps" say where the bytes lie.  Further fields
// of a LoadedImage are further members of the object; the
// same program writes and reads the encoding.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

#include "image/FirmwareImage.h"

namespace talvo::cli {

// CRC-32 as zlib, PNG and the `crc32` tool compute it (polynomial 0x04C11DB7,
// reflected, initial value and final XOR 0xFFFFFFFF).
uint32_t Crc32(const QByteArray& bytes);
// Eight lower-case hexadecimal digits, as `crc32 FILE` prints them.
QString Crc32Text(uint32_t crc);

struct HandedImage {
    LoadedImage image; // ok, with its bytes
    QString source;
};

QByteArray EncodeHandedImage(const LoadedImage& image, const QString& source);
// nullopt with *error set when `data` is not a whole encoded image.
std::optional<HandedImage> DecodeHandedImage(const QByteArray& data, QString* error);

} // namespace talvo::cli
