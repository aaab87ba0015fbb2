// Process entry point; the start-up sequence lives in the app library.
int main() { return 0; }
