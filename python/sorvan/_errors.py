"""The exceptions of the sorvan package."""


class Error(Exception):
    """A recording that cannot be opened or read.

    Attributes:
        text: what went wrong, in the ABF library's words where it failed
            (the text names the file).
        number: the ABF library's error number (1001 to 1021 and others, as
            ``kav_AbfLastErr`` gives them), or 0 when the reader refused a
            request itself (a range outside the channel, a closed recording).
        filename: the file, as it was given to :func:`sorvan.open`.
    """

    def __init__(self, text, number=0, filename=None):
        super().__init__(text)
        self.text = text
        self.number = number
        self.filename = filename

    def __str__(self):
        return self.text

    def __reduce__(self):
        return type(self), (self.text, self.number, self.filename)


class FileNotFound(Error, FileNotFoundError):
    """The file does not exist: both a :class:`sorvan.Error` and a
    :class:`FileNotFoundError`."""

    def __init__(self, text, number=0, filename=None):
        Error.__init__(self, text, number, filename)
        self.errno = 2
        self.strerror = text


Error.__module__ = FileNotFound.__module__ = "sorvan"
