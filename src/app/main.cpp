// kora: a full-screen viewer and editor of DBF tables.
int main() { return 0; }
