// chromaduct-bench-empty: a program that does nothing, linked to the Qt
// libraries chromaduct-convert starts with. The benchmark times it beside
// chromaduct-convert --formats: what the start-up costs beyond loading them.

#include <QtGlobal>

int main()
{
    // A call into Qt Core, so that the library is loaded as it is for ours.
    return qVersion() ? 0 : 1;
}
