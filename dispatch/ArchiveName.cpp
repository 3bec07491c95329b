#include "dispatch/ArchiveName.h"

QString QueueIdentifierOfArchiveName(const QString& name)
{
    const qsizetype underscore = name.lastIndexOf(u'_');
    if (underscore < 0)
        return {};
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype end = dot > underscore ? dot : name.size();
    return name.mid(underscore + 1, end - underscore - 1);
}
