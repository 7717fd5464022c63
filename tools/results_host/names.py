"""The names the results host shares with the program: the account, the web folder, the shared file and the
submitters' lock."""

USER_NAME = "vantrel"
DEFAULT_PASSWORD = "Pl4nkton"
WEB_FOLDER = "/vantrel/"
SHARED_NAME = "compare.zip"
LOCK_NAME = "compare.lock"
CLAIM_PREFIXES = ("compare.q-", "compare.claim-")
LOCK_ENTRY_PREFIXES = ("hb-", "dead-")
# Listed in FEAT. IN-TURN: an APPE of whole records to the shared file is taken in its sender's turn (what
# older programs look for). ANYTIME: also outside every turn; the host applies each at the file's end under a
# lock of its own, so appenders need no turn at all.
APPEND_FEATURE = "VANTREL-APPE-IN-TURN"
APPEND_ANYTIME_FEATURE = "VANTREL-APPE-ANYTIME"
