# The host names the demo and test builds use: the bundled demo site listens on
# 127.0.0.1:$VELMORA_DEMO_PORT and answers for both. curl resolves every
# *.localhost name to loopback, so the sub-domain address form
# (alice.localhost:PORT) reaches it as well.
VELMORA_DEMO_PORT=47180
VELMORA_DEMO_ALBUM_HOST="localhost:$VELMORA_DEMO_PORT"
VELMORA_DEMO_UPDATE_HOST="127.0.0.1:$VELMORA_DEMO_PORT"
