// placeholder: the demo site is being written
