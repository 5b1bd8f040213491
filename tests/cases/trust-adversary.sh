# The generated adversary of root runs (trust_adversary.py): for each seed, 1 to 400 or TARVIK_SEED=N
# alone, a random tree of root's and two users' folders, files and links, a root copy of a 0600 file
# into a random path through it, and what must always hold. It prints its count of seeds on fd 3.
skips=$skipped && row trust-adversary L 's=secret#600' '' '!python3 "$tests/trust_adversary.py" "$program"' root 3>&1
[ "$skips" = "$skipped" ] || echo "trust-adversary: 0 seeds"
