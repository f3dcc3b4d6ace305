"""Checks the stemming of rouge155 (-m) token for token against the
ROUGE-1.5.5 script itself.

Usage: rouge155_stem_check.py PATH/TO/rouge155_stem_words

Feeds the stemming executable every token of Debian's English word lists (as
the script splits them: runs of ASCII letters and digits, lower-cased) and a
generated set of tokens built from every suffix the script's Porter stemmer
looks at, with initial y's, digits and long runs; and compares each stem with
what the script's own MorphStem subroutine returns (WordNet exceptions, then
its Porter stemmer), run by perl from the script's text with its database.

Exit status 0 when every stem matches, 1 otherwise.
"""

import pathlib
import random
import re
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))
import rouge155_script  # noqa: E402

WORD_LISTS = [
    pathlib.Path("/usr/share/dict/american-english"),
    pathlib.Path("/usr/share/dict/british-english"),
    pathlib.Path("/usr/share/dict/american-english-huge"),
]

# The script's subroutines, taken from its text: everything from its Porter
# stemmer to the end, and MorphStem.
PERL = r"""
use DB_File;
my ($script, $db) = @ARGV;
open(my $f, '<', $script) or die "cannot read $script";
my $src = do { local $/; <$f> };
my ($porter) = $src =~ /(# Porter stemmer in Perl.*)/s or die "no Porter stemmer in the script";
my ($morph) = $src =~ /(sub MorphStem \{.*?\n\}\n)/s or die "no MorphStem in the script";
eval "$porter\n$morph\n1;" or die $@;
tie %exceptiondb, 'DB_File', $db, O_RDONLY, 0440, $DB_HASH or die "cannot open $db";
initialise();
while (my $w = <STDIN>) { chomp $w; print((length($w) > 3 ? MorphStem($w) : $w), "\n"); }
"""

SUFFIXES = (
    "sses ies ss s eed ed ing at bl iz y e ll "
    "ational tional enci anci izer bli alli entli eli ousli ization ation ator alism iveness fulness "
    "ousness aliti iviti biliti logi icate ative alize iciti ical ful ness al ance ence er ic able ible "
    "ant ement ment ent ou ism ate iti ous ive ize sion tion"
).split()


def fail(message):
    print(f"rouge155_stem_check: {message}", file=sys.stderr)
    sys.exit(1)


def word_list_tokens():
    tokens = set()
    for path in WORD_LISTS:
        if not path.exists():
            fail(f"{path} is missing; scripts/setup-dev.sh installs it")
        tokens.update(re.findall(r"[a-z0-9]+", path.read_text(encoding="utf-8", errors="replace").lower()))
    return tokens


def generated_tokens(count=150_000, seed=5):
    rng = random.Random(seed)
    letters = "aeiouyybcdlmnrsttwxz01ssee"
    tokens = set()
    while len(tokens) < count:
        word = "".join(rng.choice(letters) for _ in range(rng.randint(1, 9)))
        if rng.random() < 0.7:
            word += rng.choice(SUFFIXES)
        if rng.random() < 0.3:
            word = "y" + word
        if rng.random() < 0.01:
            word *= rng.randint(5, 12)
        tokens.add(word)
    return tokens


def main():
    if len(sys.argv) != 2:
        fail("usage: rouge155_stem_check.py PATH/TO/rouge155_stem_words")
    tokens = sorted(word_list_tokens() | generated_tokens())
    text = "".join(t + "\n" for t in tokens)
    data = rouge155_script.data_dir()
    script = rouge155_script.script_home() / "ROUGE-1.5.5.pl"
    theirs = subprocess.run(["perl", "-e", PERL, str(script), str(data / "WordNet-2.0.exc.db")],
                            input=text, capture_output=True, text=True, check=True).stdout.splitlines()
    ours = subprocess.run([sys.argv[1]], input=text, capture_output=True, text=True, check=True).stdout.splitlines()
    if len(theirs) != len(tokens) or len(ours) != len(tokens):
        fail(f"{len(tokens)} tokens, {len(theirs)} stems from the script, {len(ours)} from ours")
    wrong = [(t, a, b) for t, a, b in zip(tokens, theirs, ours) if a != b]
    for token, expected, got in wrong[:20]:
        print(f"{token}: the script {expected}, ours {got}")
    print(f"rouge155_stem_check: {len(tokens)} tokens, {len(wrong)} different")
    sys.exit(1 if wrong else 0)


if __name__ == "__main__":
    main()
