// placeholder until the tree source is settled
int main() {
  return 0;
}
