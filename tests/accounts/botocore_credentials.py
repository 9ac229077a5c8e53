"""Prints the credentials botocore obtains for the first profile that uses an sso-session.

Only botocore's own code runs: its config loader, token loader and SSO credential provider.
Debian's botocore predates AWS_ENDPOINT_URL_SSO, so the sso client is pointed at the
endpoint named by that variable here.
"""
import os
import sys

import botocore.session

probe = botocore.session.Session()
names = [name for name, values in probe.full_config.get("profiles", {}).items()
         if "sso_session" in values]
if not names:
    sys.exit("no profile with an sso_session")

session = botocore.session.Session(profile=names[0])
create_client = session.create_client


def create_client_at_endpoint(service_name, *args, **kwargs):
    if service_name == "sso" and os.environ.get("AWS_ENDPOINT_URL_SSO"):
        kwargs.setdefault("endpoint_url", os.environ["AWS_ENDPOINT_URL_SSO"])
        kwargs.setdefault("verify", os.environ.get("AWS_CA_BUNDLE"))
    return create_client(service_name, *args, **kwargs)


session.create_client = create_client_at_endpoint
credentials = session.get_credentials()
if credentials is None:
    sys.exit("no credentials")
frozen = credentials.get_frozen_credentials()
print(frozen.access_key)
print(frozen.token)
