#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <algorithm>
#include <functional>
#include <optional>

class QFileInfo;
struct stat;

namespace orvik::files {

// Where the last UTF-8 sequence of `s` starts when it is cut off at the end;
// s.size() when it is whole. Invalid bytes are left to validation.
inline qsizetype utf8CompletePrefix(QByteArrayView s) {
    for (qsizetype back = 1; back <= std::min<qsizetype>(4, s.size()); ++back) {
        const auto c = static_cast<unsigned char>(s[s.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? s.size() - back : s.size();
    }
    return s.size();
}

// The length of the strict UTF-8 sequence at `s` (no overlong forms,
// surrogates or values above U+10FFFF), or 0 where none starts.
inline int utf8SequenceLength(const unsigned char* s, qsizetype available) {
    const unsigned char c = s[0];
    if (c < 0x80)
        return 1;
    int length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (available < length || s[1] < low || s[1] > high)
        return 0;
    for (int k = 2; k < length; ++k)
        if ((s[k] & 0xC0) != 0x80)
            return 0;
    return length;
}

// File names as the file system holds them: bytes, not always UTF-8 (an old
// archive, another system's encoding). A byte outside valid UTF-8 becomes the
// lone surrogate U+DC80 + (byte - 0x80), which encodeName() turns back into
// that byte, so such a name survives the trip through a QString path; every
// other name decodes as plain UTF-8. Qt's own codec would replace the byte and
// name another file. Paths go to the system only through encodeName().
QString decodeName(QByteArrayView name);
QByteArray encodeName(const QString& path);
// The name as shown: each byte that is no UTF-8 as U+FFFD.
QString displayName(const QString& name);

// Opens a file for reading if it is a regular file (a link to one counts):
// a device, FIFO or socket named like a sheet is never read. The open never
// blocks (no waiting for a FIFO's writer). -1 with errno set otherwise;
// `st` receives the opened file's status.
int openRegular(const QString& path, struct stat& st);
// Whether `path` names a regular file, a link to one included.
bool isRegularFile(const QString& path);

// Reads a regular file in pieces of at most `chunkBytes`, handing each to
// `piece` (false from it stops the read early). False if the file cannot be
// opened as a regular file or reading it fails. Bounded by the file's size
// at opening: a file that keeps growing cannot make a read endless. `st`
// receives the file's status at opening.
bool readChunks(const QString& path, qsizetype chunkBytes,
                const std::function<bool(QByteArrayView)>& piece, struct stat* st = nullptr);

// Reads a whole file as strict UTF-8 text; nothing if it cannot be read or decoded.
std::optional<QString> readText(const QString& path);
// Reads a whole regular file, as large as it was when opened; nothing if it
// cannot be read.
std::optional<QByteArray> readBytes(const QString& path);

// Writes through a temporary file in the same folder that then replaces the target,
// so the target always holds either the old or the new content. True on success.
bool writeAtomically(const QString& path, const QByteArray& bytes);
bool writeTextAtomically(const QString& path, const QString& text);

// Writes a file that must not exist yet: nothing at `path` is ever replaced, and
// readers see either no file or the whole content. False if the name is taken
// or the write fails.
bool writeNewAtomically(const QString& path, const QByteArray& bytes);

// Gives a file or folder a new path without ever replacing anything there:
// Taken when something, even a dangling link, has that name.
enum class MoveResult { Moved, Taken, Failed };
MoveResult moveNoReplace(const QString& from, const QString& to);
// Moves `from` into `folder` under the first free name of firstFreeName(),
// taking the next one when another program takes a name first. The new path,
// or nothing if the move failed.
std::optional<QString> moveToFreeName(const QString& from, const QString& folder,
                                      const QString& stem, const QString& ext);

// An advisory lock on a lock file (created when missing) that serialises a
// read-modify-write of the files beside it across processes; held until the
// object goes. Not held when the lock file is no regular file or another holder
// keeps it longer than `timeoutMs`.
class FileLock {
public:
    explicit FileLock(const QString& path, int timeoutMs = 10000);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool isHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// One version of a file as the store last saw it: enough to tell whether
// another program wrote it since. Sync tools may keep the sender's
// modification time, and coarse file systems round it, so the content hash
// has the last word.
struct FileVersion {
    bool exists = false;
    qint64 size = -1;
    QDateTime modified;
    QByteArray hash; // of the content; empty when the content was not read

    // Size and modification time only; cheap, but blind to a rewrite of the
    // same size within the file system's time resolution.
    bool sameStamp(const FileVersion& other) const {
        return exists == other.exists && size == other.size && modified == other.modified;
    }
};

QByteArray contentHash(const QByteArray& bytes);
// Size and modification time, without reading the file.
FileVersion stamp(const QString& path);
FileVersion stamp(const QFileInfo& info);
FileVersion stamp(const struct stat& st);
// Size, modification time and content hash; `bytes` receives the content.
FileVersion version(const QString& path, QByteArray* bytes = nullptr);

// The first name "stem.ext", "stem-1.ext", "stem-2.ext", ... with nothing at that path
// inside `folder`. Without an extension the dot is left out. A `tag` follows the
// stem ("stem tag-1.ext"). Where the name would be too long for the folder's file
// system (255 bytes on most), the stem is cut between user-perceived characters;
// tag, counter and extension are kept.
QString firstFreeName(const QString& folder, const QString& stem, const QString& ext,
                      const QString& tag = {});
// The same for a copy the user makes: "stem.ext", "stem 2.ext", "stem 3.ext", ...
QString firstFreeCopyName(const QString& folder, const QString& stem, const QString& ext);

// How writeTarget() ended.
enum class TargetWrite { Written, Exists, NotARegularFile, Failed };

// Writes a file the user names (an export) atomically: at a new name, or, when
// `replace` allows, in place of a regular file, keeping its permissions. What
// is at `path` is never written through or replaced when it is anything else:
// a symbolic link, a FIFO, a device, a socket or a folder.
TargetWrite writeTarget(const QString& path, const QByteArray& bytes, bool replace = true);

// A single path component that cannot leave its folder: not empty, not "." or "..",
// no path separator, no NUL.
bool isPlainName(const QString& name);

} // namespace orvik::files
