#pragma once
// What can be known of a job before anything runs, so that a job that cannot deliver fails
// at once instead of after its render: the output's folder exists, is a folder and can be
// written in, the file name fits the folder's file system, and the source holds audio.
#include <QString>
#include <QUrl>

namespace sonteva {

// A source of 0 frames is refused, in the window and on the command line alike: an empty
// master is nearly always a failed export, and an empty file marked done would pass it on
// to the client unnoticed.
inline const QString kNoAudioText =
    QStringLiteral("The source holds no audio (0 frames): there is nothing to deliver");

// Why nothing can be written in `folder` (a local path), or empty.
QString outputFolderProblem(const QString& folder);
// Why no file of that name can be created in its folder (a name longer than the file
// system allows), or empty.
QString outputNameProblem(const QUrl& output);

// Whether anything (a file, a link, a folder) has the output's name.
bool outputExists(const QUrl& output);
// Why a no-clobber job whose output exists was skipped: "exists: /path/out.wav".
QString skipReason(const QUrl& output);

} // namespace sonteva
