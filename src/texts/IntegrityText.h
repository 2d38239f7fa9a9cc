#pragma once

#include <QString>
#include <QStringList>

namespace Keldra::Texts {

// What the integrity check reports, the same in the window and in keldra-cli.
class IntegrityText
{
public:
    // "Nenhum problema encontrado em N arquivos."
    static QString noProblems(qsizetype checkedFiles);
    // "Arquivos danificados no cofre: N."
    static QString damagedCount(qsizetype damagedFiles);
    // The count, then the damaged files by vault path (a long list is cut short).
    static QString damagedList(const QStringList& damagedPaths);
};

} // namespace Keldra::Texts
