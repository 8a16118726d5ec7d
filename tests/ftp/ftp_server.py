"""A throw-away FTP server for the transfer test.

Usage: python3 ftp_server.py ROOT USER PASSWORD
Serves ROOT on 127.0.0.1 for one user with full rights, on a free port that
it prints as the first line of its standard output. Stops on SIGTERM.
"""
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password = sys.argv[1:4]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), handler)
    signal.signal(signal.SIGTERM, lambda *_: server.close_all())
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
