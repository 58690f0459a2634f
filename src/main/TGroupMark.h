#pragma once
#include <QByteArray>

// Where the search stands in one group: the message id of the last article
// begun there (followed by "+" once it was fully handled) and its number.
struct TGroupMark {
    QByteArray Text;
    qint32 Number = 0;
    bool operator==(const TGroupMark &) const = default;
};
