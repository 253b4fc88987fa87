#pragma once

// An ASC Media Hash List (ASC MHL, version 2.0) history at a destination, the
// open manifest format of the American Society of Cinematographers that
// offload tools and post-production systems read and verify.
//
// The folder "ascmhl" at the history's root holds one manifest for each
// generation, "NNNN_<root folder name>_<YYYY-MM-DD>_<HHMMSS>Z.mhl" (numbered
// from 0001, the time in UTC), listing files by their path below the root
// with size, modification time and hashes, and the chain "ascmhl_chain.xml",
// which names every manifest with the C4 ID of its bytes, so that a manifest
// changed afterwards shows. A manifest is never changed once written.
//
// Each hash carries an action: "original" when the history had no hash of
// the file before, "verified" when the file hashed as its earliest recorded
// hash, "failed" when it did not (a failed hash is never taken as a file's
// hash later). A folder below the root with a history of its own keeps the
// files under it: they go into a new generation there, and the root's new
// generation refers to that one by path and C4 ID.
//
// Nothing is written into a history that does not read as one: a chain that
// cannot be read, a manifest it names that is missing, unreadable or changed,
// a manifest the chain does not name. Such a history is left as it is.
//
// Every file lands under its name whole or not at all: it is written to a
// file without a name (or a hidden ".ferrovane-" six letters ".part" in the
// same folder where the file system has no nameless files), flushed to the
// disk, and only then named; a manifest never replaces a file, the chain
// replaces only itself. Writers of one history take turns (a lock on its
// folder), so runs that end together number their generations apart.
//
// Names are the exact file names (FileNames.h): a name that XML cannot carry
// (bytes that are not UTF-8, control characters) cannot be listed, and says
// so. Our temporaries (".ferrovane-" names) and whatever lies under an
// "ascmhl" folder are never listed.

#include "copy/AscMhlHash.h"
#include "copy/ImportRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <vector>

// Who writes a generation, named in its creatorinfo.
struct MhlCreator
{
    QString tool;     // the program's name
    QString version;  // its version
    QString host;     // the computer's name; empty: this computer's
    QString comment;  // optional (for instance where the files came from)
};

// "transfer": the files were copied here and hashed while copying;
// "in-place": files already here were hashed where they are.
enum class MhlProcess { InPlace, Transfer };

enum class MhlAction { Original, Verified, Failed };

// One new generation of the history at a root (and of the histories of
// folders below it). Used from one thread.
class MhlGeneration
{
public:
    MhlGeneration();
    ~MhlGeneration();
    MhlGeneration(const MhlGeneration &) = delete;
    MhlGeneration &operator=(const MhlGeneration &) = delete;

    // Reads the history at root (a missing "ascmhl" folder is an empty
    // history); started names the manifest. False when the folder holds no
    // history this can add to: Trouble() says why, and nothing is written.
    bool Start(const QString &root, const MhlCreator &creator, MhlProcess process,
               const QDateTime &started = QDateTime::currentDateTimeUtc());

    struct Added
    {
        bool listed = false;
        MhlAction action = MhlAction::Original;
        // Why the file is not listed, or which manifest holds the hash a
        // failed file differs from.
        QString note;
    };
    // Lists a file, its path relative to the root ('/' between folders),
    // with its size and modification time and the hash of its bytes. When
    // the history holds the file only in other kinds of hash, the file is
    // read here to hash it in one of those. A path added again replaces the
    // earlier entry. A folder on the way that holds a history that does not
    // read as one ends the whole generation: Trouble() says why, and Finish
    // writes nothing.
    Added Add(const QString &path, const FileStamp &stamp, const MhlHash &hash);
    // Whether an earlier generation lists a file at the path: another file
    // placed there would be listed as failed, so a free name for a new file
    // is better one the history does not know.
    bool Knows(const QString &path);

    // Writes the generation: the manifests and then the chains, each history
    // below the root before the root's. Nothing to write when no file was
    // listed. False on a failure (Trouble() says why), after which the root
    // holds no trace of the generation unless a history below it was
    // already complete.
    bool Finish();

    QString Trouble() const { return trouble_; }
    // The manifests Finish wrote, relative to the root.
    const QStringList &Written() const { return written_; }
    int Listed() const;

private:
    struct Scope;
    // The scope of the deepest history folder above the path (the root's
    // when there is none); within: the path below that folder.
    Scope *ScopeFor(const QString &path, QString &within);
    bool WriteScope(Scope &scope, const std::vector<const Scope *> &below);
    bool Fail(const QString &why);

    QString root_;
    MhlCreator creator_;
    MhlProcess process_ = MhlProcess::Transfer;
    QDateTime started_;
    std::map<QString, std::unique_ptr<Scope>> scopes_;  // by folder below the root ("" for the root, else "a/b/")
    std::map<QString, bool> historyFolders_;            // folders below the root already looked at
    QStringList written_;
    QString trouble_;
};

// The outcome for one listed file of a verification.
struct MhlCheck
{
    enum class Result { Match, Mismatch, Missing, Unreadable };
    Result result = Result::Match;
    QString path;      // relative to the verified root
    MhlHash expected;  // the earliest hash the history holds of the file
    QString found;     // the hash the file has now (Mismatch)
    QString detail;    // why it could not be read (Unreadable)
};

struct MhlVerification
{
    bool read = false;  // the history read; else trouble says why and nothing was checked
    QString trouble;
    bool stopped = false;
    qint64 files = 0;     // listed files checked
    qint64 failures = 0;  // of those, not matching, missing or unreadable
};

// Hashes every file the history at root lists (and the histories below it
// that its generations refer to) and compares each with the earliest hash of
// it the history holds, in the fastest kind recorded. each hears of every
// file in turn; stop, when given, ends the verification between reads.
MhlVerification VerifyMhlHistory(const QString &root, const std::function<void(const MhlCheck &)> &each,
                                 const std::function<bool()> &stop = {});
