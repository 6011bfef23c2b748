# The address splitter and the player-redirect resolution against a raw loopback peer.
orvello_add_test(redirect_test redirect_test.cpp split_url_test.cpp)
