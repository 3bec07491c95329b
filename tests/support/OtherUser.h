#pragma once

// Another user, for the tests that need one: a link somebody else planted, or a permission that
// root would pass anyway. Only root can become another user; tests that need one skip without.

#include <QString>
#include <functional>
#include <sys/types.h>

inline constexpr uid_t kOtherUser = 65534; // nobody

bool CanBecomeOtherUser();

// Runs work in a forked child that has become kOtherUser (no supplementary groups, its group and
// user id), and gives work's result as the child's exit status; -1 when the child could not become
// that user or did not end normally. The child only runs work: no test assertions in there.
int RunAsOtherUser(const std::function<int()>& work);

// Hands a file or folder to kOtherUser (root only).
bool GiveToOtherUser(const QString& path);
