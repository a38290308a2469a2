#include "app/shell/SingleInstance.hpp"

#include <QDir>

#include <unistd.h>

namespace brindleaf {

QString SingleInstance::lockPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QStringLiteral("/tmp/brindleaf-%1").arg(::getuid());
    else
        folder += QStringLiteral("/brindleaf");
    return folder + QStringLiteral("/instance.lock");
}

SingleInstance::SingleInstance() {
    const QString path = lockPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::setPermissions(QFileInfo(path).absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    lock_ = std::make_unique<QLockFile>(path);
    // Only a lock whose process is gone is stale, however old it is.
    lock_->setStaleLockTime(0);
    locked_ = lock_->tryLock(0);
}

} // namespace brindleaf
