#pragma once

#include "platform/PersistentDomainStore.h"

#include <QString>

// Edits the Dock's list of applications: the array "persistent-apps" of the preferences domain
// "com.apple.dock". A tile belongs to a path when the text at
// "tile-data" → "file-data" → "_CFURLString" contains the path (case and diacritics count).
// Each call reads the domain afresh and, when the list changes, writes the list alone back, so that
// every other entry stays as the Dock has it. Without the Dock's domain or its list nothing is
// written. The Dock itself is neither restarted nor signalled.
class UserDefaultsHelper {
  public:
    explicit UserDefaultsHelper(PersistentDomainStore store = PersistentDomainStore());

    // Appends a tile for `path` at the end of the list unless a tile already belongs to it.
    // Logs the list and the tiles that belong to `path` first, each as one line of old-style
    // property-list text. NO when a tile was already there, the list does not exist or the path
    // is empty (nothing is written); otherwise whether the list was written.
    bool addApplicationToDock(const QString &path);

    // Drops every tile that belongs to `path`, keeping the order of the others. NO when none did,
    // the list does not exist or the path is empty (nothing is written); otherwise whether the
    // list was written.
    bool removeApplicationFromDock(const QString &path);

  private:
    PersistentDomainStore store_;
};
