// The sound of a fax received, through Qt Multimedia: played without waiting,
// silent where there is no sound device or the file cannot be played.
#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

#include "sessions/receive_mode.h"

namespace qn {

void PlaySoundFile(const QString& path) {
  if (path.isEmpty() || !QCoreApplication::instance()) return;
  // Without an output device there is nothing to play on, and nothing to say.
  if (QMediaDevices::audioOutputs().isEmpty()) return;
  // One effect for the program: a new request replaces a sound still playing.
  static QPointer<QSoundEffect> effect;
  if (!effect) effect = new QSoundEffect(QCoreApplication::instance());
  effect->stop();
  effect->setSource(QUrl::fromLocalFile(path));
  effect->play();
}

}  // namespace qn
