# The address splitter and the player-redirect resolution over a plain TCP connection.
target_sources(orvello_core PRIVATE
    modGlobal.cpp modGlobal.h
    YoutubeRedirect.cpp YoutubeRedirect.h)
