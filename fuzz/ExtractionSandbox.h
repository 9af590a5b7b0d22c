#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>

// A fresh folder for one extraction, removed again with everything in it: the bundle is
// <root>/outside/Applications/Plimbo.app, and what a hostile archive would aim at lies around it,
// a file beside the bundle, a file and an empty folder one level up.
class ExtractionSandbox {
  public:
    explicit ExtractionSandbox(std::filesystem::path root);
    ~ExtractionSandbox();
    ExtractionSandbox(const ExtractionSandbox &) = delete;
    ExtractionSandbox &operator=(const ExtractionSandbox &) = delete;

    QString installPath() const;

    // Every path under the root but the bundle's and those below it: type and mode, a folder's
    // modification time but that of the bundle's parent (the bundle's arrival changes it), and
    // for all else link count, size, times and contents.
    QStringList outsideState() const;

  private:
    std::filesystem::path root_;
    std::filesystem::path bundle_;
};
