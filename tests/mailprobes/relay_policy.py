"""Recipient policy for the aiosmtpd test server: accept recipients of one
domain, refuse the rest as a relay would, and keep no message."""


class RelayPolicy:
    def __init__(self, domain):
        self.domain = domain.lower()

    @classmethod
    def from_cli(cls, parser, *args):
        if len(args) != 1:
            parser.error("RelayPolicy takes the accepted domain")
        return cls(args[0])

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if not address.lower().endswith("@" + self.domain):
            return "550 5.7.1 Relaying denied"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        return "250 Message discarded"
