#include "texts/IntegrityText.h"

namespace Keldra::Texts {

namespace {

// A message box taller than the screen would hide its own button.
constexpr qsizetype ListedAtMost = 20;

} // namespace

QString IntegrityText::noProblems(qsizetype checkedFiles)
{
    if (checkedFiles == 1)
        return QStringLiteral("Nenhum problema encontrado em 1 arquivo.");
    return QStringLiteral("Nenhum problema encontrado em %1 arquivos.").arg(checkedFiles);
}

QString IntegrityText::damagedCount(qsizetype damagedFiles)
{
    return QStringLiteral("Arquivos danificados no cofre: %1.").arg(damagedFiles);
}

QString IntegrityText::damagedList(const QStringList& damagedPaths)
{
    QString text = damagedCount(damagedPaths.size()) + QStringLiteral("\n\n") +
                   damagedPaths.mid(0, ListedAtMost).join(QLatin1Char('\n'));
    if (damagedPaths.size() > ListedAtMost)
        text += QStringLiteral("\n... e mais %1.").arg(damagedPaths.size() - ListedAtMost);
    return text;
}

} // namespace Keldra::Texts
