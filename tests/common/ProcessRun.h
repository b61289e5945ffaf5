#pragma once
// Runs one of TALVO's programs as a person would and collects what it said.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace talvo::test {

struct ProcessRun {
    int exitCode = -1; // -1: did not end within the limit; -2: crashed
    QString out;
    QString err;
};

// A bound that only a hung program reaches; on a busy machine the run simply
// takes longer.
inline constexpr int kProcessLimitMs = 180000;

inline ProcessRun runProcess(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProcessRun r;
    if (!p.waitForFinished(kProcessLimitMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes `bytes` to `path`; false when it cannot.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace talvo::test
