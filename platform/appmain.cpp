// The program's entry point, in a library of its own so that test programs,
// which bring their own, can link the window classes without it.
#include "platform/afxwin.h"

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv);
}
