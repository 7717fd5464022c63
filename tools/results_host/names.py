"""The names the results host shares with the program: the account, the web folder, the shared file and the
submitters' lock."""

USER_NAME = "vantrel"
DEFAULT_PASSWORD = "Pl4nkton"
WEB_FOLDER = "/vantrel/"
SHARED_NAME = "compare.zip"
LOCK_NAME = "compare.lock"
CLAIM_PREFIXES = ("compare.q-", "compare.claim-")
LOCK_ENTRY_PREFIXES = ("hb-", "dead-")
APPEND_FEATURE = "VANTREL-APPE-IN-TURN"
