// placeholder: filled in by its owner
int main() { return 0; }
