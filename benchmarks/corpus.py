"""Deterministic English prose for benchmarks: no files, no network.

References are runs of sentences from a bank of news-style English sentences
written for this purpose. Predictions are edited copies (words dropped,
replaced, inserted and moved, sentences reordered), the way a system summary
relates to its reference. Long texts extend the bank with sentences drawn
from a Zipf-weighted vocabulary of common English words.
"""

import itertools
import random
import re

_TOKEN = re.compile("[a-z0-9]+")

_WORDS = """
the of and to a in is that for it as was with be by on not he this are or his
from at which but have an they you were her she there been one all we their has
would when if so no will more can said who what about out up them some could into
than then its time only two may first like new these other any my now over such our
man me even most made after also did many before must through back years where much
your way well down should because each just those people how too little state good
very make world still own see men work long get here between both life being under
never day same another know while last might us great old year off come since against
go came right used take three states himself few house use during without again place
american around however home small found thought went say part once general high upon
school every week report city council police government minister court said told
officials company market price prices rates bank economy growth budget tax plan plans
water rain storm roads schools hospital patients doctors vaccine study researchers
data results team season match game players coach win won lost final league club
president election vote voters party leader campaign policy law bill congress senate
war troops peace talks deal agreement trade exports imports oil energy climate power
fire flood weather north south east west country region town village museum painting
police arrested men women children family members people residents workers union
strike pay wages jobs unemployment inflation interest cut cuts rise fell rose higher
lower percent million billion dollars pounds euros shares investors profit loss sales
technology software phone internet users online data privacy security attack system
car train flights airport passengers delays travel services transport crash killed
injured died hospital emergency health care cancer disease treatment drug trial
scientists space mission launch planet earth sea ocean island coast river bridge
building construction housing homes prices rent tenants landlords city centre street
""".split()

SENTENCES = [
    "Police arrested two men on Tuesday after a break-in at the city museum, where a 17th-century painting was taken from the main hall.",
    "The central bank left interest rates unchanged at 4.5% and signalled that cuts could come later this year if inflation keeps falling.",
    "Heavy rain flooded roads across the north of the country, closing schools and delaying trains for several hours.",
    "Researchers found that the new vaccine cut hospital admissions by nearly half in adults over the age of 65.",
    "The council approved a plan to build 1,200 new homes on the site of the old steelworks, despite objections from local residents.",
    "Shares in the carmaker fell sharply after it warned that profits would be lower than expected because of rising battery costs.",
    "The home side won the final 3-1 after two late goals, ending a run of four defeats in a row.",
    "Firefighters spent the night tackling a large blaze at a warehouse on the edge of town; nobody was hurt.",
    "The minister said the government would publish its long-awaited report on water pollution before the summer recess.",
    "Passengers faced long queues at the airport on Friday as staff shortages and a computer fault led to dozens of cancelled flights.",
    "Scientists have discovered a species of frog in the mountain forests that glows under ultraviolet light.",
    "The union said its members would strike for three days next month unless the company improved its pay offer.",
    "Oil prices rose for a third day as traders worried that talks between the two largest producers had stalled.",
    "A report by the health watchdog found that waiting times for routine operations had doubled over the past five years.",
    "The museum will reopen in the spring after a two-year renovation that added a new wing and a rooftop garden.",
    "Voters in the northern region will go to the polls on Sunday in an election that is expected to be close.",
    "The company said the data breach affected about 2 million customers, whose names and email addresses may have been exposed.",
    "Engineers closed the old bridge over the river after inspectors found cracks in two of its supporting columns.",
    "The coach praised his young players, saying their energy in the second half had turned the match around.",
    "House prices in the capital fell by 1.2% last month, the first drop since the start of the year.",
    "Doctors warned that the number of flu cases was rising quickly and urged older people to get vaccinated.",
    "The new rail line will cut journey times between the two cities to under an hour when it opens in 2027.",
    "Local shops reported a busy weekend as the festival brought thousands of visitors to the historic town centre.",
    "The court ruled that the landlord had acted unlawfully by raising the rent without giving tenants proper notice.",
    "The space agency said its probe had sent back the first clear pictures of the planet's frozen southern pole.",
    "Farmers say the dry summer has damaged crops and that food prices are likely to rise in the coming months.",
    "The president met leaders from neighbouring countries to discuss trade, security and the growing number of refugees.",
    "Teachers will receive a 5% pay rise under a deal agreed late on Thursday night after weeks of negotiations.",
    "The festival's organisers cancelled the final day because of high winds and the risk of falling trees.",
    "A study of 20,000 adults found that people who walked every day were less likely to develop heart disease.",
    "The energy firm plans to build a large wind farm off the east coast, creating hundreds of jobs.",
    "Officials said the fire had started in a kitchen on the ground floor before spreading quickly to the roof.",
    "The opposition leader accused the government of failing to control spending and called for an independent review.",
    "Sales of electric cars rose by a third last year, helped by cheaper models and more charging points.",
    "The zoo welcomed two rare tiger cubs, which will be shown to the public once they are a few months old.",
    "Investigators are examining why the train left the tracks near the station, injuring 12 passengers.",
    "The technology company announced it would cut 4,000 jobs worldwide as demand for its phones slowed.",
    "Residents were told to boil their tap water after tests found bacteria in the town's main supply.",
    "The charity said demand at food banks had reached record levels as families struggled with higher bills.",
    "The film, shot over six weeks in a small fishing village, won the top prize at the festival on Saturday.",
]

_NUMBERS = ["2", "3", "4", "5", "10", "12", "17th", "20", "25", "50", "100", "2020", "2024", "4.5", "1.2"]
_PUNCTUATION = [",", ",", ";", " -", ":"]


class Prose:
    def __init__(self, seed: int):
        self.rng = random.Random(seed)
        self.words = _WORDS
        # Zipf-like weights: frequent words much more common than rare ones.
        weights = [1.0 / (rank + 1) ** 0.9 for rank in range(len(self.words))]
        self.cumulative = list(itertools.accumulate(weights))

    def tokens(self, count: int) -> list[str]:
        return self.rng.choices(self.words, cum_weights=self.cumulative, k=count)

    def render(self, tokens: list[str]) -> str:
        """Join tokens into sentences with capitals, numbers and punctuation."""
        rng = self.rng
        out = []
        start = True
        for token in tokens:
            if rng.random() < 0.03:
                token = rng.choice(_NUMBERS)
            out.append(token.capitalize() if start else token)
            start = False
            roll = rng.random()
            if roll < 0.07:
                out.append(". ")
                start = True
            elif roll < 0.12:
                out.append(rng.choice(_PUNCTUATION) + " ")
            else:
                out.append(" ")
        text = "".join(out).rstrip()
        return text if text.endswith(".") else text + "."

    def edit(self, tokens: list[str]) -> list[str]:
        """A prediction: the reference with words dropped, replaced, added and moved."""
        rng = self.rng
        edited = []
        for token in tokens:
            roll = rng.random()
            if roll < 0.12:
                continue
            if roll < 0.24:
                edited.append(self.tokens(1)[0])
            else:
                edited.append(token)
            if rng.random() < 0.06:
                edited.extend(self.tokens(rng.randint(1, 3)))
        if len(edited) > 8 and rng.random() < 0.5:
            cut = rng.randrange(1, len(edited) - 1)
            edited = edited[cut:] + edited[:cut]
        return edited


def _words(sentence: str) -> list[str]:
    return sentence.split()


_BANK = [_words(s) for s in SENTENCES]
_BANK_TOKENS = [len(_TOKEN.findall(s.lower())) for s in SENTENCES]


def token_count(text: str) -> int:
    return len(_TOKEN.findall(text.lower()))


_WORD_TOKENS: dict[str, int] = {}


def _tokens_of_words(words: list[str]) -> int:
    # Words are joined by spaces, so a text's tokens are its words' tokens.
    total = 0
    for word in words:
        n = _WORD_TOKENS.get(word)
        if n is None:
            n = _WORD_TOKENS[word] = token_count(word)
        total += n
    return total


def summary_pairs(count: int, seed: int = 1, low: int = 40, high: int = 90) -> list[tuple[str, str]]:
    """Pairs of real sentences whose texts have between `low` and `high` tokens each."""
    prose = Prose(seed)
    rng = prose.rng
    pairs: list[tuple[str, str]] = []
    while len(pairs) < count:
        target = rng.randint(low, high)
        reference: list[str] = []
        tokens = 0
        for index in rng.sample(range(len(_BANK)), len(_BANK)):
            reference += _BANK[index]
            tokens += _BANK_TOKENS[index]
            if tokens >= target:
                break
        prediction = prose.edit(reference)
        if low <= tokens <= high and low <= _tokens_of_words(prediction) <= high:
            pairs.append((" ".join(reference), " ".join(prediction)))
    return pairs


def long_pairs(count: int, tokens: int = 1000, seed: int = 2) -> list[tuple[str, str]]:
    prose = Prose(seed)
    pairs = []
    for _ in range(count):
        reference = prose.tokens(tokens)
        pairs.append((prose.render(reference), prose.render(prose.edit(reference)[:tokens])))
    return pairs


# Token sets that defeat hashes reading only part of a token, as in
# tests/oracles/adversarial_tokens.hpp, and random tokens of the same
# lengths and repetition to compare them with.

_ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789"


def _base36(value: int, width: int) -> str:
    digits = []
    for _ in range(width):
        value, digit = divmod(value, 36)
        digits.append(_ALPHABET[digit])
    return "".join(reversed(digits))


def adversarial_token_sets(count: int) -> dict[str, list[str]]:
    """Name -> `count` tokens in text order."""
    sets = {
        "common 8-byte prefix": ["17000000" + _base36(i, 5) for i in range(count)],
        "common 12-byte prefix": ["170000000000" + _base36(i, 5) for i in range(count)],
    }
    base = "timestamp2024x06x01t1200"
    variants = [base] + [base[:at] + c + base[at + 1:] for at in range(len(base)) for c in _ALPHABET if c != base[at]]
    sets["equal length, one byte differs"] = [variants[(i * 7919) % len(variants)] for i in range(count)]
    sets["100 bytes, differing at the end"] = ["q" * 95 + _base36(i, 5) for i in range(count)]
    return sets


def ordinary_like(tokens: list[str], seed: int = 3) -> list[str]:
    """Random tokens with the same lengths and the same pattern of repeats."""
    rng = random.Random(seed)
    replacement: dict[str, str] = {}
    out = []
    for token in tokens:
        if token not in replacement:
            replacement[token] = "".join(rng.choice(_ALPHABET) for _ in range(len(token)))
        out.append(replacement[token])
    return out


def write_pairs(path: str, pairs: list[tuple[str, str]]) -> None:
    """Pairs for the native benchmarks: per text, its length in UTF-8 bytes on
    a line of its own, then its bytes."""
    with open(path, "wb") as out:
        for reference, prediction in pairs:
            for text in (reference, prediction):
                data = text.encode()
                out.write(b"%d\n" % len(data))
                out.write(data)


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description="Write generated pairs to a file for the native benchmarks.")
    parser.add_argument("kind", choices=["summary", "long"])
    parser.add_argument("count", type=int)
    parser.add_argument("path")
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args()
    make = summary_pairs if args.kind == "summary" else long_pairs
    write_pairs(args.path, make(args.count, seed=args.seed))
