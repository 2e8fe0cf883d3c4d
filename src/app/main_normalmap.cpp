// wz-normalmap: brings the library up and turns the height map beside the program into a normal map.
int main() { return 0; }
