// Compiled with keldra_core's include directories: must fail on the first Gui header.
#include <QtGui/QImage>

int main()
{
    return 0;
}
