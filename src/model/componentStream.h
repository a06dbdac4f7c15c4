#pragma once

#include <functional>
#include <memory>
#include <QByteArray>
#include <QtGlobal>
#include <vector>

class TPersistent;
class TGroup;
class TCollectionItem;

// The component stream: how a group with everything below it is stored in the DATA stream of the
// database file. Writer and reader are driven only by the classes' property tables.

// Tags of the values in a component stream.
namespace StreamTag {
constexpr quint8 Null = 0x00;
constexpr quint8 List = 0x01;
constexpr quint8 Int8 = 0x02;
constexpr quint8 Int16 = 0x03;
constexpr quint8 Int32 = 0x04;
constexpr quint8 Extended = 0x05;
constexpr quint8 String = 0x06;
constexpr quint8 Ident = 0x07;
constexpr quint8 False = 0x08;
constexpr quint8 True = 0x09;
constexpr quint8 Set = 0x0B;
constexpr quint8 LString = 0x0C;
constexpr quint8 Collection = 0x0E;
constexpr quint8 WString = 0x12;
constexpr quint8 Utf8String = 0x14;
} // namespace StreamTag

// The 80-bit extended-precision form of a double: every double converts exactly.
void DoubleToExtended(double value, unsigned char out[10]);
// Back to double, rounded to nearest (ties to even) as the floating-point unit does; values beyond the
// double range become infinities, values below it zeros or subnormals.
double ExtendedToDouble(const unsigned char in[10]);

// Writes "TPF0", the object header and the object's properties and end markers.
QByteArray WriteComponent(const TPersistent& root);
void WriteComponent(const TPersistent& root, QByteArray& out);
// The same bytes as pieces to be stored one after the other. A collection of at least splitFrom items
// is rendered by two threads at once (this one and another), in runs that are pieces. sizeHint: the size
// the record is expected to have (the last one's), to spare the buffers from growing; spare: the pieces of
// the last record, whose memory is written anew (fresh memory costs a page fault per page).
// sink, when given, takes each piece as soon as it and every one before it are rendered (from either
// thread, one call at a time).
constexpr int SplitItemsFrom = 2048;
using TPieceSink = std::function<void(const QByteArray&)>;
std::vector<QByteArray> WriteComponentPieces(const TPersistent& root, qsizetype sizeHint,
                                             int splitFrom = SplitItemsFrom,
                                             std::vector<QByteArray> spare = {}, const TPieceSink& sink = {});

// Reads one object from a component stream. The class must be a registered one (TGroup); bytes after
// the record are ignored. Any malformed input raises EReadError with the reader's message.
// Text of tags 0x06 and 0x0C is taken as Latin-1, the code page of the bytes this writer never uses.
// itemRead, when given, is called with each collection item as soon as it is read whole (a later part
// of the record may still be malformed, and then the item goes with the rest).
using TItemRead = std::function<void(TCollectionItem& item)>;
std::unique_ptr<TGroup> ReadGroup(const char* data, qsizetype size, const TItemRead& itemRead = {});
inline std::unique_ptr<TGroup> ReadGroup(const QByteArray& data, const TItemRead& itemRead = {})
{
    return ReadGroup(data.constData(), data.size(), itemRead);
}
