// A program that does nothing, linked with one layer's objects and those of the layers below it: it
// links only when the layer calls nothing above it.

int main()
{
    return 0;
}
