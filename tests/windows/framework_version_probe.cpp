// An empty program: the resource test reads the version block, the manifest
// and the licence text that its edition's resources put into it.
int main() {
    return 0;
}
