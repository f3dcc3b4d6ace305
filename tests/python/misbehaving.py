"""Sequences that misbehave in every way a batch argument can, shared by the
tests, the reference-leak hunt and the soak (and importable in the
subprocesses the tests start, whose path includes this folder)."""

HOOKS = ("__len__", "__iter__", "__next__", "__getitem__")


class LyingLength(list):
    """A list whose __len__ returns `length`, or raises it if it is an exception."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


class GetItemOnly:
    """A sequence by the old protocol, __getitem__ until IndexError; raises
    `error` at index `fail_at`."""

    def __init__(self, items, fail_at=None, error=None):
        self.items, self.fail_at, self.error = items, fail_at, error

    def __getitem__(self, index):
        if index == self.fail_at:
            raise self.error
        return self.items[index]


class Raising(list):
    """A list that raises `error` from `hook`: __len__, __iter__, or the
    iterator's __next__ after it has yielded the first element."""

    def __init__(self, items, hook, error):
        super().__init__(items)
        self.hook, self.error = hook, error

    def __len__(self):
        if self.hook == "__len__":
            raise self.error
        return list.__len__(self)

    def __iter__(self):
        if self.hook == "__iter__":
            raise self.error
        if self.hook == "__next__":
            return self.FailingIterator(self)
        return list.__iter__(self)

    class FailingIterator:
        def __init__(self, owner):
            self.owner, self.given = owner, False

        def __iter__(self):
            return self

        def __next__(self):
            if self.given:
                raise self.owner.error
            self.given = True
            return list.__getitem__(self.owner, 0)


def raising_from(hook, error, items=("a", "b")):
    """A sequence of `items` that raises `error` from `hook` (one of HOOKS);
    __getitem__ fails at the second element."""
    if hook == "__getitem__":
        return GetItemOnly(list(items), 1, error)
    return Raising(list(items), hook, error)


def panic_type():
    """The module's PanicException class. It is not exported: it exists once
    the module has taken an exception out of the interpreter. Other
    extensions (any built with pyo3, polars among them) have classes of the
    same dotted name, so it is told apart by its own docstring."""
    import tallygrams

    try:
        tallygrams.score("\ud800", "")
    except UnicodeEncodeError:
        pass
    return next(c for c in BaseException.__subclasses__()
                if c.__module__ == "pyo3_runtime" and (c.__doc__ or "").startswith("Raised when native code"))
